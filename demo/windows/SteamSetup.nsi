; Demo Steam installer: installs the stand-in client and web helper into
; C:\Program Files (x86)\Steam without asking. With -DEMPTY it installs nothing
; but leaves a note in C:\users\Public that only its run can leave. With
; -DAMD64 it is a 64-bit installer, for machines that cannot run 32-bit
; programs; otherwise a 32-bit one, like the real Steam installer.
Unicode true
!ifdef AMD64
Target amd64-unicode
!define WIDTH "64-bit"
!else
!define WIDTH "32-bit"
!endif
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUT}"

Function .onInit
  ; $PROGRAMFILES32 names the 64-bit folder in a 64-bit installer; the variable does not.
  ReadEnvStr $0 "ProgramFiles(x86)"
  StrCpy $INSTDIR "$0\Steam"
FunctionEnd

Section
!ifdef EMPTY
  ReadEnvStr $0 "PUBLIC"
  FileOpen $1 "$0\EmptySteamSetup.txt" w
  FileWrite $1 "EmptySteamSetup.exe (${WIDTH}) ran and installed nothing.$\r$\n"
  FileClose $1
!else
  SetOutPath "$INSTDIR"
  File "${BIN}/steam.exe"
  SetOutPath "$INSTDIR\bin\cef"
  File "${BIN}/steamwebhelper.exe"
!endif
SectionEnd
