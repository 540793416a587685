// One serving server process at a time, across the processes COM starts.
//
// Windows starts a local server once and lets every client wait for its class object; Wine
// lets each client that finds no class object start the server itself, so two clients that
// start at once start two servers, and both open COM1 (each reading half of the device's
// answers). The serving process holds a named mutex for its whole run. A process started by
// COM while another one serves or is still starting does nothing visible and waits for that
// one to end. If that one never registered a class object (it gave up first), it serves in
// its place. If it did, our client was probably served there; but it may also have found the
// class object withdrawn on its next try, and then it waits for us: so we register ours and
// serve only if a client comes within a few seconds. Spares that waited together need that
// only once: after the first of them has taken over, the others end. And nobody waits for a
// class object for ever: a process that waited longer than any client does ends unseen.
#pragma once
#include <windows.h>

class ServerClaim {
 public:
  // ServeIfAsked: a spare. End: nobody can be waiting for this process any more.
  enum class Outcome { Serve, ServeIfAsked, End };

  ServerClaim() = default;
  ServerClaim(const ServerClaim&) = delete;
  ServerClaim& operator=(const ServerClaim&) = delete;
  ~ServerClaim();

  // automationStart: started by COM (-Embedding/-Automation). A normal start serves anyway,
  // claiming only when the claim is free.
  Outcome Acquire(bool automationStart);
  // Around the class object's registration; only the holder of the claim marks.
  void MarkRegistered();
  void MarkRevoked();
  // Before the process ends: a waiting process then sees an orderly end, not an abandoned one.
  void Release();

 private:
  LONG SpareTakeovers() const;

  HANDLE mutex_ = nullptr;
  HANDLE registered_ = nullptr;  // manual-reset event: set while the holder's class object is registered
  HANDLE shared_ = nullptr;      // file mapping holding the count below
  // How many spares have taken the claim over so far, counted across the processes.
  volatile LONG* spareTakeovers_ = nullptr;
  bool owned_ = false;
};
