#include "platform/Application.h"

TApplication Application;

void TApplication::Terminate() {
  Terminated = true;
  PostQuitMessage(0);
}

void TApplication::Resume() { Terminated = false; }

void TApplication::RequestEnd() {
  if (EndRequest)
    EndRequest();
  else
    Terminate();
}
