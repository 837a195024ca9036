; comTavrin installer: the 64-bit and the 32-bit comTavrin.dll and tavrin-check.exe, each
; registered for the hosts of its own bitness, and an uninstaller that takes all of it away.
;
; Built by scripts/package.sh:
;   makensis -DVERSION=1.0.0.10 -DSTAGE=DIR -DOUTFILE=FILE installer/comTavrin.nsi
; STAGE holds x64/ and x86/ (comTavrin.dll and tavrin-check.exe each) and the documents
; (README.md, and CHANGELOG.md when -DWITH_CHANGELOG is given).
;
; Layout on 64-bit Windows:
;   $PROGRAMFILES64\comTavrin   64-bit DLL and exe, README.md, CHANGELOG.md, uninstall.exe
;   $PROGRAMFILES32\comTavrin   32-bit DLL and exe
; On 32-bit Windows only the 32-bit files are installed, all in $PROGRAMFILES\comTavrin.
; The folders are fixed (no directory page; /D= is not honoured): the registry names the DLLs
; by their full paths, and the uninstaller works out both folders the same way.
;
; The installer is a 32-bit program. The 64-bit DLL is registered by the 64-bit regsvr32 (file
; system redirection off, so that System32 is the real one), the 32-bit DLL by SysWOW64's,
; which writes to the 32-bit registry view. The Uninstall entry goes to the 64-bit view.

!ifndef VERSION
  !error "VERSION is not defined: makensis -DVERSION=major.minor.build.revision"
!endif
!ifndef STAGE
  !error "STAGE is not defined: makensis -DSTAGE=directory with x64/ and x86/"
!endif
!ifndef OUTFILE
  !define OUTFILE "comTavrin-setup-${VERSION}.exe"
!endif

;
; With -DSIGN_SCRIPT=FILE (scripts/package.sh gives it when it signs the release) the
; uninstaller written into the installer is signed by that script, which signs the file it is
; given in place (installer/sign.sh).
!ifdef SIGN_SCRIPT
  !uninstfinalize 'bash "${SIGN_SCRIPT}" "%1"' = 0
!endif

!define PRODUCT "comTavrin"
!define PUBLISHER "comTavrin project"
!define DESCRIPTION "comTavrin SSH command check plug-in"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\comTavrin"
!define UNINSTALLER "uninstall.exe"
; The exit code when started without administrator rights.
!define ERROR_ELEVATION_REQUIRED 740

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "WinVer.nsh"
!include "FileFunc.nsh"

!define MUI_WELCOMEPAGE_TEXT "This installs ${DESCRIPTION} ${VERSION} in Program Files, the 64-bit and the 32-bit comTavrin.dll and tavrin-check.exe, and registers the class comTavrin.TavrinCom for the monitoring applications of either bitness.$\r$\n$\r$\nClose the monitoring application before you continue."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Where the 32-bit files go: the 32-bit Program Files on 64-bit Windows, else $INSTDIR.
Var X86Dir

!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} must be installed and removed by an administrator." /SD IDOK
    SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
!macroend

!macro ChooseLayout
  ${If} ${RunningX64}
    SetRegView 64
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    StrCpy $X86Dir "$PROGRAMFILES32\${PRODUCT}"
  ${Else}
    StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    StrCpy $X86Dir "$INSTDIR"
  ${EndIf}
!macroend

; Runs "REGSVR32 /s [/u] DLL" and leaves its exit code in $0 ("error" when it did not start).
; BITS 64 runs System32's regsvr32 with the file system redirection of this 32-bit process
; off; 32 runs the 32-bit one (SysWOW64's on 64-bit Windows).
!macro RunRegsvr32 BITS OPTIONS DLL
  ClearErrors
  !if ${BITS} == 64
    ${DisableX64FSRedirection}
    ExecWait '"$WINDIR\System32\regsvr32.exe" ${OPTIONS} "${DLL}"' $0
    ${EnableX64FSRedirection}
  !else
    ${If} ${RunningX64}
      ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" ${OPTIONS} "${DLL}"' $0
    ${Else}
      ExecWait '"$SYSDIR\regsvr32.exe" ${OPTIONS} "${DLL}"' $0
    ${EndIf}
  !endif
  ${If} ${Errors}
    StrCpy $0 "error"
  ${EndIf}
!macroend

!macro Register BITS DLL
  DetailPrint "Registering ${DLL} (${BITS}-bit)"
  !insertmacro RunRegsvr32 ${BITS} "/s" "${DLL}"
  ${If} $0 != 0
    DetailPrint "regsvr32 failed: $0"
    MessageBox MB_ICONSTOP|MB_OK "Registering the ${BITS}-bit ${DLL} failed (regsvr32: $0).$\r$\nThe files stay installed; remove them with the uninstaller." /SD IDOK
    Abort
  ${EndIf}
!macroend

!macro Unregister BITS DLL
  ${If} ${FileExists} "${DLL}"
    DetailPrint "Unregistering ${DLL} (${BITS}-bit)"
    !insertmacro RunRegsvr32 ${BITS} "/s /u" "${DLL}"
    ${If} $0 != 0
      DetailPrint "regsvr32 /u failed: $0"
    ${EndIf}
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} needs Windows 7 or later." /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
  !insertmacro RequireAdmin
  SetShellVarContext all
  !insertmacro ChooseLayout
FunctionEnd

Section "comTavrin" SecMain
  SectionIn RO

  ${If} ${RunningX64}
    SetOutPath "$INSTDIR"
    File "${STAGE}/x64/comTavrin.dll"
    File "${STAGE}/x64/tavrin-check.exe"
  ${EndIf}
  SetOutPath "$X86Dir"
  File "${STAGE}/x86/comTavrin.dll"
  File "${STAGE}/x86/tavrin-check.exe"

  SetOutPath "$INSTDIR"
  File "${STAGE}/README.md"
!ifdef WITH_CHANGELOG
  File "${STAGE}/CHANGELOG.md"
!endif
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The entry first, so that a failed registration below can still be undone from it.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Comments" "${DESCRIPTION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${If} ${RunningX64}
    ${GetSize} "$X86Dir" "/S=0K" $3 $1 $2
    IntOp $0 $0 + $3
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} ${RunningX64}
    !insertmacro Register 64 "$INSTDIR\comTavrin.dll"
  ${EndIf}
  !insertmacro Register 32 "$X86Dir\comTavrin.dll"
SectionEnd

Function un.onInit
  !insertmacro RequireAdmin
  SetShellVarContext all
  !insertmacro ChooseLayout
FunctionEnd

Section "Uninstall"
  ${If} ${RunningX64}
    !insertmacro Unregister 64 "$INSTDIR\comTavrin.dll"
  ${EndIf}
  !insertmacro Unregister 32 "$X86Dir\comTavrin.dll"

  ; /REBOOTOK: a DLL still loaded by a running host is removed at the next start.
  ${If} ${RunningX64}
    Delete /REBOOTOK "$INSTDIR\comTavrin.dll"
    Delete /REBOOTOK "$INSTDIR\tavrin-check.exe"
  ${EndIf}
  Delete /REBOOTOK "$X86Dir\comTavrin.dll"
  Delete /REBOOTOK "$X86Dir\tavrin-check.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\CHANGELOG.md"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only empty folders go: whatever the operator put there stays.
  RMDir /REBOOTOK "$X86Dir"
  RMDir /REBOOTOK "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
