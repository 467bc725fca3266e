; Demo Steam installer: installs the stand-in client and web helper into
; C:\Program Files (x86)\Steam without asking. With -DEMPTY it installs nothing.
Unicode true
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUT}"

Function .onInit
  ; $PROGRAMFILES32 names the 64-bit folder in a 64-bit installer; the variable does not.
  ReadEnvStr $0 "ProgramFiles(x86)"
  StrCpy $INSTDIR "$0\Steam"
FunctionEnd

Section
!ifndef EMPTY
  SetOutPath "$INSTDIR"
  File "${BIN}/steam.exe"
  SetOutPath "$INSTDIR\bin\cef"
  File "${BIN}/steamwebhelper.exe"
!endif
SectionEnd
