; Kestrune Demo Product: the sample product installer of the kestrune demo.
;
; Built by build_product.sh, which runs
;   makensis -DTARGET=x86|amd64 -DOUTFILE=<dir>/SETUP.EXE product.nsi
;
; Command forms of the built SETUP.EXE:
;   SETUP.EXE                              interactive: one OK box, then installs
;   SETUP.EXE -s -SMS                      silent: no box, no window
;   SETUP.EXE /qn REBOOT=ReallySuppress    silent, MSI-style: no box, no window
; Tokens that mean "silent" (any case): -s /s /q /qn /quiet. Anything else on
; the command line (-SMS, REBOOT=...) is accepted and ignored: this product
; never needs a reboot. NSIS's own /D=<dir> (last on the line) still picks
; another install folder.
;
; There are no wizard pages in either form: the installer is always "silent"
; to NSIS, and the interactive form only adds the one question box.
;
; Exit codes: 0 installed; 2 the installation failed (nothing claimed as done;
; the reason goes to install.log when the folder exists, and, in the
; interactive form, to an error box).
;
; Only instructions built into the NSIS stub are used: no plugins.

;--------------------------------------------------------------------------
; Target

!ifndef TARGET
  !define TARGET x86
!endif
!if "${TARGET}" == "amd64"
  Target amd64-unicode
  !define PRODUCT_PF "$PROGRAMFILES64"
!else if "${TARGET}" == "x86"
  Target x86-unicode
  !define PRODUCT_PF "$PROGRAMFILES"
!else
  !error "TARGET must be x86 or amd64, not '${TARGET}'"
!endif

!ifndef OUTFILE
  !define OUTFILE "SETUP.EXE"
!endif
; The package's installer has to be called SETUP.EXE; makensis warns that
; Windows applies its installer heuristics (compatibility shims, elevation
; guess) to that name. RequestExecutionLevel below sets the manifest, which
; takes precedence over the guess.
!pragma warning disable 9000

;--------------------------------------------------------------------------
; Product

!define PRODUCT_NAME "Kestrune Demo Product"
!define PRODUCT_PUBLISHER "Kestrune"
!define PRODUCT_QUESTION "Install ${PRODUCT_NAME} now?"
!define PAYLOAD "${__FILEDIR__}/payload"
; The version lives in one place: payload/version.txt ("... version X.Y.Z").
!searchparse /file "${PAYLOAD}/version.txt" "${PRODUCT_NAME} version " PRODUCT_VERSION
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KestruneDemoProduct"

!include LogicLib.nsh
!include FileFunc.nsh

Name "${PRODUCT_NAME}"
; The caption is also the title of every message box.
Caption "${PRODUCT_NAME}"
UninstallCaption "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "${PRODUCT_PF}\${PRODUCT_NAME}"
RequestExecutionLevel admin
SilentInstall silent
SilentUnInstall silent
SetCompressor /SOLID lzma
ManifestDPIAware true

VIProductVersion "${PRODUCT_VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT_NAME} installer (${TARGET})"
VIAddVersionKey "CompanyName" "${PRODUCT_PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Sample product of the kestrune demo"

Var Mode      ; "interactive" or "silent"
Var Failure   ; why the installation failed, empty while all is well

;--------------------------------------------------------------------------
; Command line

; Tells whether a parameter string asks for a silent run.
; In: the parameters on the stack. Out: "1" or "0" on the stack.
; Blanks separate tokens; double quotes group blanks into a token and are
; dropped. A token counts only when it is one of the silent switches as a
; whole, so -SMS or /qb do not count as -s or /q.
!macro DEFINE_IS_SILENT_REQUEST PREFIX
Function ${PREFIX}IsSilentRequest
  Exch $R0   ; rest of the parameters
  Push $R1   ; current token
  Push $R2   ; current character
  Push $R3   ; result
  Push $R4   ; inside double quotes: 1
  StrCpy $R3 0
  ${Do}
    ; skip blanks
    ${Do}
      StrCpy $R2 $R0 1
      ${If} $R2 == " "
      ${OrIf} $R2 == "$\t"
        StrCpy $R0 $R0 "" 1
      ${Else}
        ${ExitDo}
      ${EndIf}
    ${Loop}
    ${If} $R0 == ""
      ${ExitDo}
    ${EndIf}
    ; read one token
    StrCpy $R1 ""
    StrCpy $R4 0
    ${Do}
      StrCpy $R2 $R0 1
      ${If} $R2 == ""
        ${ExitDo}
      ${EndIf}
      ${If} $R4 == 0
        ${If} $R2 == " "
        ${OrIf} $R2 == "$\t"
          ${ExitDo}
        ${EndIf}
      ${EndIf}
      StrCpy $R0 $R0 "" 1
      ${If} $R2 == '"'
        IntOp $R4 1 - $R4
      ${Else}
        StrCpy $R1 "$R1$R2"
      ${EndIf}
    ${Loop}
    ; LogicLib's == ignores case
    ${If} $R1 == "-s"
    ${OrIf} $R1 == "/s"
    ${OrIf} $R1 == "/q"
    ${OrIf} $R1 == "/qn"
    ${OrIf} $R1 == "/quiet"
      StrCpy $R3 1
    ${EndIf}
  ${Loop}
  StrCpy $R0 $R3
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro DEFINE_IS_SILENT_REQUEST ""
!insertmacro DEFINE_IS_SILENT_REQUEST "un."

;--------------------------------------------------------------------------
; Installer

Function .onInit
  StrCpy $Failure ""
  ${GetParameters} $0
  Push $0
  Call IsSilentRequest
  Pop $0
  ${If} $0 == 1
    StrCpy $Mode "silent"
  ${Else}
    StrCpy $Mode "interactive"
    ; The one question of the interactive form. MB_OK has no other answer:
    ; closing the box (Esc, the title bar's X) also answers OK.
    MessageBox MB_OK|MB_ICONQUESTION|MB_SETFOREGROUND "${PRODUCT_QUESTION}"
  ${EndIf}
FunctionEnd

; Appends one line to install.log in the install folder, if it exists.
; In: the line's text on the stack.
Function AppendLog
  Exch $R0
  Push $R1
  ${If} ${FileExists} "$INSTDIR\*.*"
    ClearErrors
    FileOpen $R1 "$INSTDIR\install.log" a
    ${IfNot} ${Errors}
      FileSeek $R1 0 END
      FileWrite $R1 "$R0$\r$\n"
      FileClose $R1
    ${EndIf}
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Records a failure and stops the installation (exit code 2).
!macro FAIL TEXT
  StrCpy $Failure "${TEXT}"
  Abort "${TEXT}"
!macroend

Section "Install"
  SetOverwrite on

  ClearErrors
  CreateDirectory "$INSTDIR"
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    !insertmacro FAIL "cannot create the folder $INSTDIR"
  ${EndIf}
  SetOutPath "$INSTDIR"

  ; A file that cannot be written sets the error flag (in a silent run the
  ; stub's Abort/Retry/Ignore box takes its default answer without showing).
  ClearErrors
  File "${PAYLOAD}/readme.txt"
  File "${PAYLOAD}/version.txt"
  File "${PAYLOAD}/sample-data.csv"
  ${If} ${Errors}
    !insertmacro FAIL "cannot write the product files into $INSTDIR"
  ${EndIf}

  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
  ${OrIfNot} ${FileExists} "$INSTDIR\uninstall.exe"
    !insertmacro FAIL "cannot write $INSTDIR\uninstall.exe"
  ${EndIf}

  ; The entry in the list of installed programs. Without the rights for it
  ; the product still works: the log says the entry is missing.
  ClearErrors
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PRODUCT_PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${If} ${Errors}
    StrCpy $0 "; no entry in the list of installed programs (no rights for HKLM)"
  ${Else}
    StrCpy $0 ""
  ${EndIf}

  Push "${PRODUCT_NAME} ${PRODUCT_VERSION} (${TARGET}): installed, mode=$Mode; files in $INSTDIR: readme.txt, version.txt, sample-data.csv, uninstall.exe$0; command line: $CMDLINE"
  Call AppendLog
SectionEnd

Function .onInstFailed
  ${If} $Failure == ""
    StrCpy $Failure "the installation was stopped"
  ${EndIf}
  Push "${PRODUCT_NAME} ${PRODUCT_VERSION} (${TARGET}): FAILED, mode=$Mode: $Failure; command line: $CMDLINE"
  Call AppendLog
  ${If} $Mode == "interactive"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} could not be installed: $Failure."
  ${EndIf}
FunctionEnd

;--------------------------------------------------------------------------
; Uninstaller: asks OK/Cancel unless its command line holds a silent switch
; (NSIS's /S, or any of the installer's). It removes only what the installer
; wrote; the folder goes only when nothing else is left in it.

Var UnMode

Function un.onInit
  ${GetParameters} $0
  Push $0
  Call un.IsSilentRequest
  Pop $0
  ${If} $0 == 1
    StrCpy $UnMode "silent"
  ${Else}
    StrCpy $UnMode "interactive"
    MessageBox MB_OKCANCEL|MB_ICONQUESTION|MB_SETFOREGROUND "Remove ${PRODUCT_NAME} from $INSTDIR?" IDOK un_confirmed
    ; Cancel: nothing is removed, exit code 1 as for NSIS's own Cancel
    SetErrorLevel 1
    Quit
    un_confirmed:
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\version.txt"
  Delete "$INSTDIR\sample-data.csv"
  Delete "$INSTDIR\install.log"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
