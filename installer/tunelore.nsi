; The Windows installer of the Tunelore plug-in: copies the DLL into Program Files, registers
; it with the regsvr32 of its own architecture and writes an uninstaller that undoes exactly
; that. Built by scripts/build-installer:
;   makensis -DDLL32=<32-bit DLL> -DDLL64=<64-bit DLL> -DVERSION=<a.b.c.d> -DOUTFILE=<setup.exe>
; On 64-bit Windows both DLLs go in, each in the Program Files and registry view of its
; architecture, so both the 32-bit and the 64-bit player find the plug-in; on 32-bit Windows
; only the 32-bit one. The per-user settings under HKCU\software\Quillmark stay where they are.

Unicode true
!include LogicLib.nsh
!include x64.nsh

!ifndef DLL32 | DLL64 | VERSION | OUTFILE
  !error "define DLL32, DLL64, VERSION and OUTFILE (see scripts/build-installer)"
!endif

!define PRODUCT "Tunelore plugin"
!define MAKER "Quillmark"
!define DLL_NAME "Tunelore-WMP.dll"
!define FOLDER "Tunelore"
!define UNINSTALLER "Uninstall.exe"
; The uninstaller entry lives in the installer's own (32-bit) registry view, beside the
; uninstaller itself in the 32-bit Program Files.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tunelore"
; regsvr32 exits with 0 only when the DLL loaded and its export returned S_OK.
!define REGSVR32_OK 0
; The error level of an installation or removal that did not complete.
!define FAILED 2

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "../res/icons/found.ico"
UninstallIcon "../res/icons/idle.ico"
; $PROGRAMFILES is the 32-bit Program Files for a 32-bit installer on either kind of Windows.
InstallDir "$PROGRAMFILES\${FOLDER}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright ${MAKER}"

; No folder choice: the 64-bit copy has to go to the 64-bit Program Files anyway, so each
; architecture gets one fixed place.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Runs regsvr32 silently on a DLL; FLAGS is "" to register or "/u" to unregister. Leaves the
; exit code in $0, or "error" when regsvr32 could not be started.
!macro Regsvr32 REGSVR32 FLAGS DLL
  DetailPrint "${REGSVR32} ${FLAGS} ${DLL}"
  ClearErrors
  ExecWait '"${REGSVR32}" /s ${FLAGS} "${DLL}"' $0
  ${If} ${Errors}
    StrCpy $0 "error"
  ${EndIf}
!macroend

; Registers a DLL; on failure tells the user and stops the installation. The uninstaller is
; already written by then, so what was copied can still be removed.
!macro Register REGSVR32 DLL
  !insertmacro Regsvr32 "${REGSVR32}" "" "${DLL}"
  ${If} $0 != ${REGSVR32_OK}
    SetErrorLevel ${FAILED}
    MessageBox MB_OK|MB_ICONSTOP "${DLL} could not be registered (regsvr32: $0)." /SD IDOK
    Abort "Registration failed."
  ${EndIf}
!macroend

; Unregisters a DLL; a failure is reported and the removal goes on, so that a damaged
; installation can still be taken away.
!macro Unregister REGSVR32 DLL
  !insertmacro Regsvr32 "${REGSVR32}" "/u" "${DLL}"
  ${If} $0 != ${REGSVR32_OK}
    SetErrorLevel ${FAILED}
    DetailPrint "${DLL} could not be unregistered (regsvr32: $0)."
  ${EndIf}
!macroend

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  File "/oname=${DLL_NAME}" "${DLL32}"
  ${If} ${RunningX64}
    SetOutPath "$PROGRAMFILES64\${FOLDER}"
    File "/oname=${DLL_NAME}" "${DLL64}"
  ${EndIf}

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${DLL_NAME},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; A DLL can only be loaded, and so registered, by a process of its own architecture; each
  ; regsvr32 writes into the registry view of that architecture.
  ${If} ${RunningX64}
    !insertmacro Register "$WINDIR\SysWOW64\regsvr32.exe" "$INSTDIR\${DLL_NAME}"
    ; Without redirection, System32 is the native one and holds the 64-bit regsvr32.
    ${DisableX64FSRedirection}
    !insertmacro Register "$SYSDIR\regsvr32.exe" "$PROGRAMFILES64\${FOLDER}\${DLL_NAME}"
    ${EnableX64FSRedirection}
  ${Else}
    !insertmacro Register "$SYSDIR\regsvr32.exe" "$INSTDIR\${DLL_NAME}"
  ${EndIf}
SectionEnd

Section "Uninstall"
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    !insertmacro Unregister "$SYSDIR\regsvr32.exe" "$PROGRAMFILES64\${FOLDER}\${DLL_NAME}"
    ${EnableX64FSRedirection}
    !insertmacro Unregister "$WINDIR\SysWOW64\regsvr32.exe" "$INSTDIR\${DLL_NAME}"
    ; A player that still has the DLL loaded keeps the file until the next restart.
    Delete /REBOOTOK "$PROGRAMFILES64\${FOLDER}\${DLL_NAME}"
    RMDir /REBOOTOK "$PROGRAMFILES64\${FOLDER}"
  ${Else}
    !insertmacro Unregister "$SYSDIR\regsvr32.exe" "$INSTDIR\${DLL_NAME}"
  ${EndIf}

  Delete /REBOOTOK "$INSTDIR\${DLL_NAME}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Not recursive: anything the user put into the folder stays, and so does the folder.
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
