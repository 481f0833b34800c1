; The Windows installer: for the current user, without administrator rights.
; makensis -DVERSION=x.y.z -DOUTFILE=... -DICON=... -DLICENSE=...
;          -DFILES=install.nsh -DUNFILES=uninstall.nsh pointwind.nsi
; FILES and UNFILES list the portable folder's files, so that uninstalling
; removes exactly what was installed.
; A 64-bit installer for a 64-bit program (Unicode throughout).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pointwind"
!define APP_KEY "Software\Classes\Applications\pointwind.exe"
!define PROGID "Pointwind.nc1"

Name "Pointwind"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Pointwind"
BrandingText "Pointwind ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Pointwind"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Pointwind setup"
VIAddVersionKey /LANG=1033 "CompanyName" "The Pointwind developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "2026 The Pointwind developers, GPL-3.0-or-later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\pointwind.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Pointwind"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Pointwind.lnk" "$INSTDIR\pointwind.exe" "" "$INSTDIR\pointwind.exe" 0

  ; "Open with Pointwind" for group cache files; the newsreader stays
  ; their default program.
  WriteRegStr HKCU "${APP_KEY}" "FriendlyAppName" "Pointwind"
  WriteRegStr HKCU "${APP_KEY}\DefaultIcon" "" '"$INSTDIR\pointwind.exe",0'
  WriteRegStr HKCU "${APP_KEY}\SupportedTypes" ".nc1" ""
  WriteRegStr HKCU "${APP_KEY}\shell\open\command" "" '"$INSTDIR\pointwind.exe" "%1"'
  WriteRegStr HKCU "Software\Classes\${PROGID}" "" "Group cache file"
  WriteRegStr HKCU "Software\Classes\${PROGID}\DefaultIcon" "" '"$INSTDIR\pointwind.exe",0'
  WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open" "" "Open with Pointwind"
  WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\pointwind.exe" "%1"'
  WriteRegStr HKCU "Software\Classes\.nc1\OpenWithProgids" "${PROGID}" ""

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Pointwind"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Pointwind developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\pointwind.exe",0'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

; The user's settings (in the roaming application data) stay.
Section "Uninstall"
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Pointwind.lnk"
  DeleteRegKey HKCU "${APP_KEY}"
  DeleteRegKey HKCU "Software\Classes\${PROGID}"
  DeleteRegValue HKCU "Software\Classes\.nc1\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKCU "Software\Classes\.nc1\OpenWithProgids"
  DeleteRegKey /ifempty HKCU "Software\Classes\.nc1"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
