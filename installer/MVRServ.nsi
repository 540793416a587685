; Installer and uninstaller of the MVR Server, in German. scripts/package.sh builds it:
;   makensis -DVERSION=1.2.3.0 -DTARGET=x86-unicode -DSTAGE=<staged files> -DOUTFILE=<setup.exe>
; TARGET x86-unicode is the product; amd64-unicode (64-bit Program Files and registry view)
; installs the x86_64 build that stands in where 32-bit code cannot run.
; Exit codes: 0 done, 1 cancelled by the user, 2 the program is running or a step failed.

!ifndef VERSION | TARGET | STAGE | OUTFILE
  !error "VERSION, TARGET, STAGE and OUTFILE must be defined"
!endif

Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "MVR Server"
!define PUBLISHER "Brightloom"
!define EXE "MVRServ.exe"
!define UNINSTALLER "uninst.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MVR Server"
!define STARTMENU "$SMPROGRAMS\${PRODUCT}"
!define EXIT_FAILED 2

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
!if "${TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES32\${PRODUCT}"
!endif
; An update goes where the installed version is.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\LiesMich.txt"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_GERMAN} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileDescription" "${PRODUCT} Installation"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "LegalCopyright" "${PUBLISHER}"

; Pushes 1 when a process runs the program file $INSTDIR\MVRServ.exe, else 0. A copy of the
; program elsewhere does not count. Paths are compared in their long form, since COM starts
; the server by the short path when its folder has a blank.
!macro DEFINE_SERVER_RUNNING un
Function ${un}ServerRunning
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  StrCpy $8 0
  StrCpy $0 "$INSTDIR\${EXE}"
  System::Call 'kernel32::GetLongPathNameW(w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2'
  ${If} $2 <> 0
    StrCpy $0 $1
  ${EndIf}
  ; Room for 4096 process ids.
  System::Alloc 16384
  Pop $1
  System::Call 'psapi::EnumProcesses(p r1, i 16384, *i .r2) i .r3'
  ${If} $3 <> 0
    IntOp $2 $2 / 4
    StrCpy $3 0
    ${DoWhile} $3 < $2
      IntOp $4 $3 * 4
      IntPtrOp $4 $1 + $4
      System::Call '*$4(i .r5)'
      ; PROCESS_QUERY_LIMITED_INFORMATION
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r5) p .r6'
      ${If} $6 P<> 0
        StrCpy $7 ${NSIS_MAX_STRLEN}
        System::Call 'kernel32::QueryFullProcessImageNameW(p r6, i 0, w .r4, *i r7) i .r5'
        System::Call 'kernel32::CloseHandle(p r6)'
        ${If} $5 <> 0
          System::Call 'kernel32::GetLongPathNameW(w r4, w .r6, i ${NSIS_MAX_STRLEN}) i .r5'
          ${If} $5 <> 0
            StrCpy $4 $6
          ${EndIf}
          ${If} $4 == $0
            StrCpy $8 1
            ${Break}
          ${EndIf}
        ${EndIf}
      ${EndIf}
      IntOp $3 $3 + 1
    ${Loop}
  ${EndIf}
  System::Free $1
  StrCpy $0 $8
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Waits until the installed program has ended: the user ends it and retries, or cancels.
; Silent mode cannot ask: it ends with EXIT_FAILED and changes nothing.
Function ${un}WaitServerEnded
  Push $0
  ${Do}
    Call ${un}ServerRunning
    Pop $0
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Der MVR Server ($INSTDIR\${EXE}) läuft noch.$\r$\n$\r$\nBitte beenden Sie ihn (Symbol im Infobereich der Taskleiste, Menü $\"Beenden$\") und alle Programme, die ihn benutzen, und klicken Sie dann auf $\"Wiederholen$\"." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_FAILED}
    Quit
    retry:
  ${Loop}
  Pop $0
FunctionEnd
!macroend
!insertmacro DEFINE_SERVER_RUNNING ""
!insertmacro DEFINE_SERVER_RUNNING "un."

Section "MVR Server" SecMain
  SectionIn RO
  SetShellVarContext all
  Call WaitServerEnded

  ; An update into another folder first removes the installed version, so that no orphaned
  ; copy stays behind without an uninstall entry. Its uninstaller refuses while it runs.
  ReadRegStr $1 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $1 != ""
  ${AndIf} $1 != $INSTDIR
  ${AndIf} ${FileExists} "$1\${UNINSTALLER}"
    DetailPrint "Entferne die installierte Version in $1 ..."
    StrCpy $0 ""
    ClearErrors
    ExecWait '"$1\${UNINSTALLER}" /S _?=$1' $0
    ; A failed unregistration is reported by the exit code too, yet the files are gone then.
    ${If} ${FileExists} "$1\${EXE}"
      MessageBox MB_OK|MB_ICONSTOP \
        "Die installierte Version in $1 konnte nicht entfernt werden (Rückgabewert $\"$0$\"). Läuft der MVR Server dort noch?" \
        /SD IDOK
      SetErrorLevel ${EXIT_FAILED}
      Abort "Update abgebrochen."
    ${EndIf}
    Delete "$1\${UNINSTALLER}"
    RMDir "$1"
  ${EndIf}

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${STAGE}/MVRServ.exe"
  File "${STAGE}/LiesMich.txt"
  SetOutPath "$INSTDIR\Beispiele"
  File "${STAGE}/Beispiele/client.vbs"
  File "${STAGE}/Beispiele/client.js"
  File "${STAGE}/Beispiele/client.cpp"
  File "${STAGE}/Beispiele/MVR_Server.h"
  File "${STAGE}/Beispiele/MVR_Server_i.c"
  File "${STAGE}/Beispiele/OleBase.h"
  SetOutPath "$INSTDIR"

  ; Uninstaller and its entry first: whatever fails below leaves an installation that can be removed.
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0

  CreateDirectory "${STARTMENU}"
  CreateShortcut "${STARTMENU}\MVR Server.lnk" "$INSTDIR\${EXE}"
  CreateShortcut "${STARTMENU}\Beispiele.lnk" "$INSTDIR\Beispiele"
  CreateShortcut "${STARTMENU}\LiesMich.lnk" "$INSTDIR\LiesMich.txt"
  CreateShortcut "${STARTMENU}\MVR Server deinstallieren.lnk" "$INSTDIR\${UNINSTALLER}"

  ; The program itself knows its registration keys, and writes them in both registry views
  ; on 64-bit Windows for 64-bit clients; the uninstall entry stays in the installer's view.
  DetailPrint "Registriere den COM-Server ..."
  StrCpy $0 ""
  ClearErrors
  ExecWait '"$INSTDIR\${EXE}" /regserver' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP \
      "Der MVR Server konnte nicht registriert werden ($\"${EXE} /regserver$\" endete mit $\"$0$\").$\r$\n$\r$\nDie Dateien sind installiert; entfernen Sie die Installation mit dem Deinstallationsprogramm." \
      /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Abort "Registrierung fehlgeschlagen."
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Call un.WaitServerEnded

  DetailPrint "Entferne die Registrierung des COM-Servers ..."
  StrCpy $0 ""
  ClearErrors
  ExecWait '"$INSTDIR\${EXE}" /unregserver' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    ; Go on: the files must go anyway; the exit code tells scripts that something was left.
    DetailPrint "$\"${EXE} /unregserver$\" endete mit $\"$0$\"."
    SetErrorLevel ${EXIT_FAILED}
  ${EndIf}

  Delete "$INSTDIR\MVRServ.exe"
  Delete "$INSTDIR\LiesMich.txt"
  ; The program's run log, written next to it; the settings (registry, MVRServ.Ini) stay.
  Delete "$INSTDIR\MVRServ.log"
  Delete "$INSTDIR\Beispiele\client.vbs"
  Delete "$INSTDIR\Beispiele\client.js"
  Delete "$INSTDIR\Beispiele\client.cpp"
  Delete "$INSTDIR\Beispiele\MVR_Server.h"
  Delete "$INSTDIR\Beispiele\MVR_Server_i.c"
  Delete "$INSTDIR\Beispiele\OleBase.h"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Not recursive: files the user put there stay, and so do their folders.
  RMDir "$INSTDIR\Beispiele"
  RMDir "$INSTDIR"

  Delete "${STARTMENU}\MVR Server.lnk"
  Delete "${STARTMENU}\Beispiele.lnk"
  Delete "${STARTMENU}\LiesMich.lnk"
  Delete "${STARTMENU}\MVR Server deinstallieren.lnk"
  RMDir "${STARTMENU}"

  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd

Function un.onInit
  SetShellVarContext all
  Call un.WaitServerEnded
FunctionEnd
