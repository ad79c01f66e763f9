; SPDX-License-Identifier: MIT
; The Windows setup program: Orvex for the user who runs it, without
; administrator rights, in the UserProgramFiles known folder
; (%LOCALAPPDATA%\Programs\Orvex); Start menu shortcuts and one entry in
; Settings > Apps, all in the user's profile and HKCU. The programs it
; installs are built to save every Capture into Pictures\Orvex: nothing is
; ever written beside them, so the folder holds only what this program put
; there, and its uninstaller removes exactly that.
;
; tools/windows/build.sh compiles it with makensis and these definitions:
;   VERSION, VERSION_QUAD  1.0 and 1.0.0.0
;   STAGE    the folder of the files to install, as installed
;   FILES    files.nsh, which lists them (ORVEX_FILES, ORVEX_FOLDERS)
;   LICENCE  the licence page's text
;   ICON     packaging/orvex.ico
;   OUTFILE  the setup program to write
;   TARGET   amd64-unicode for a 64-bit setup program (tests only)
;
; Silent: /S; /D=FOLDER (last on the line, unquoted) installs elsewhere.
; Exit codes: 0 installed, 1 cancelled, 2 nothing changed, for the reason a
; message names (run interactively to see it).

Unicode true
!ifdef TARGET
    Target ${TARGET}
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
; Windows 7, 8, 8.1, 10 and 11, as in the programs' own manifest.
ManifestSupportedOS {35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} \
    {1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvex"
!define UNINSTALLER "uninstall.exe"
!define PUBLISHER "The Orvex developers"
; The suffixes of the files setup keeps beside the installed ones while it
; replaces them.
!define NEW ".orvex-new"
!define OLD ".orvex-old"

Name "Orvex ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Orvex ${VERSION}"
; Where the entry says an earlier copy is; else .onInit asks Windows.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "Orvex"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Orvex ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) ${PUBLISHER}; MIT licence"

Var Previous    ; the folder of the copy installed already, if any
Var Failure     ; why nothing is installed (or removed), for the message
Var Swapped     ; how many files are in place, for the way back
Var Created     ; the highest folder the install made, for the way back

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_LICENSEPAGE_TEXT_TOP "Orvex is free software under the MIT licence. It contains Qt, libjpeg-turbo and zlib, under their own licences:"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "These texts are installed with Orvex, in its LICENSES folder."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!define MUI_PAGE_CUSTOMFUNCTION_PRE DirectoryPre
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will install Orvex for you alone, in the following folder. No administrator rights are needed: choose a folder you can write to."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Orvex is installed: find it in the Start menu.$\r$\n$\r$\nEvery Capture is saved into the folder Orvex in your Pictures folder."
!define MUI_FINISHPAGE_RUN "$INSTDIR\orvex.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Orvex"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "Orvex will be removed from the following folder. Your pictures in Pictures\Orvex stay."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; --- The steps, one file at a time (files.nsh applies them to each) ----------

; An installed file that cannot be opened for writing is in use: a program
; running from it, or another program holding it. Windows would refuse to
; replace or remove it.
!macro CheckReplaceable index path source
    ${If} $Failure == ""
    ${AndIf} ${FileExists} "$INSTDIR\${path}"
        ClearErrors
        FileOpen $0 "$INSTDIR\${path}" a
        ${If} ${Errors}
            StrCpy $Failure "$INSTDIR\${path} is in use. Close Orvex (all its programs and the camera simulator) and try again."
        ${Else}
            FileClose $0
        ${EndIf}
    ${EndIf}
!macroend

!macro MakeFolder path
    CreateDirectory "$INSTDIR\${path}"
!macroend

; The new file beside the one in place, under a name of its own.
!macro Extract index path source
    ${If} $Failure == ""
        ClearErrors
        File "/oname=$INSTDIR\${path}${NEW}" "${STAGE}/${source}"
        ${If} ${Errors}
            StrCpy $Failure "Setup could not write $INSTDIR\${path}${NEW}. Is the disk full?"
        ${EndIf}
    ${EndIf}
!macroend

; The file in place goes aside, the new one takes its name; each step a
; rename within the folder, which the way back undoes.
!macro Swap index path source
    ${If} $Failure == ""
        StrCpy $0 ok
        ${If} ${FileExists} "$INSTDIR\${path}"
            ClearErrors
            Rename "$INSTDIR\${path}" "$INSTDIR\${path}${OLD}"
            ${If} ${Errors}
                StrCpy $0 failed
            ${EndIf}
        ${EndIf}
        ${If} $0 == ok
            ClearErrors
            Rename "$INSTDIR\${path}${NEW}" "$INSTDIR\${path}"
            ${If} ${Errors}
                StrCpy $0 failed
                Rename "$INSTDIR\${path}${OLD}" "$INSTDIR\${path}"
            ${EndIf}
        ${EndIf}
        ${If} $0 == ok
            IntOp $Swapped $Swapped + 1
        ${Else}
            StrCpy $Failure "Setup could not replace $INSTDIR\${path}: it is in use. Close Orvex and try again."
        ${EndIf}
    ${EndIf}
!macroend

; The way back: the files swapped so far get their old selves again, and
; the new ones not swapped yet go.
!macro Unswap index path source
    ${If} ${index} < $Swapped
        Delete "$INSTDIR\${path}"
        Rename "$INSTDIR\${path}${OLD}" "$INSTDIR\${path}"
    ${EndIf}
    Delete "$INSTDIR\${path}${NEW}"
!macroend

!macro DropOld index path source
    Delete "$INSTDIR\${path}${OLD}"
!macroend

; What a setup cut short (power lost) may have left.
!macro DropLeftovers index path source
    Delete "$INSTDIR\${path}${NEW}"
    Delete "$INSTDIR\${path}${OLD}"
!macroend

!macro Remove index path source
    ClearErrors
    Delete "$INSTDIR\${path}"
    ${If} ${Errors}
        StrCpy $Failure "$INSTDIR\${path} could not be removed: it is in use. Close Orvex and remove it again."
    ${EndIf}
!macroend

!macro RemoveFolder path
    RMDir "$INSTDIR\${path}"
!macroend

; The uninstaller is installed as the last of the files, written by
; WriteUninstaller rather than extracted.
!macro ForEachFile action
    !insertmacro ORVEX_FILES ${action}
    !insertmacro ${action} ${ORVEX_FILE_COUNT} "${UNINSTALLER}" ""
!macroend

!macro Shortcut name program description
    CreateShortcut "$SMPROGRAMS\Orvex\${name}.lnk" "$INSTDIR\${program}" "" "$INSTDIR\${program}" 0 \
        SW_SHOWNORMAL "" "${description}"
!macroend

!macro RemoveShortcuts
    Delete "$SMPROGRAMS\Orvex\Orvex.lnk"
    Delete "$SMPROGRAMS\Orvex\Orvex Crosshair.lnk"
    Delete "$SMPROGRAMS\Orvex\Orvex Plain.lnk"
    Delete "$SMPROGRAMS\Orvex\Orvex Camera Simulator.lnk"
    RMDir "$SMPROGRAMS\Orvex"
!macroend

; --- Installing ------------------------------------------------------------

Function .onInit
    ReadRegStr $Previous HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $Previous != ""
        ${IfNot} ${FileExists} "$Previous\${UNINSTALLER}"
            ; The folder is gone: nothing to keep the entry's word to.
            StrCpy $Previous ""
        ${Else}
            GetFullPathName $Previous $Previous
        ${EndIf}
    ${EndIf}
    ${If} $INSTDIR == ""
        Call DefaultFolder
    ${EndIf}
    ; A /D= folder on a drive that does not exist is dropped without a word,
    ; and the default taken instead: setup says so and installs nowhere. The
    ; command line as Windows holds it still has the /D= that $CMDLINE lacks.
    System::Call 'kernel32::GetCommandLineW() w .r0'
    ClearErrors
    ${GetOptionsS} $0 " /D=" $1
    ${IfNot} ${Errors}
        ${Do}
            StrCpy $2 $1 1 -1
            ${If} $2 != "\"
                ${Break}
            ${EndIf}
            StrCpy $1 $1 -1
        ${Loop}
        ${If} $1 != $INSTDIR
            MessageBox MB_OK|MB_ICONSTOP "Orvex cannot be installed in $1: there is no such drive or folder." /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${EndIf}
FunctionEnd

; The UserProgramFiles known folder, where Windows puts programs installed
; for one user; %LOCALAPPDATA%\Programs where Windows does not know it.
Function DefaultFolder
    System::Call 'shell32::SHGetKnownFolderPath(g "{5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}", i 0x4000, p 0, *p .r1) i .r0'
    ${If} $0 == 0
        System::Call '*$1(&w${NSIS_MAX_STRLEN} .r2)'
        System::Call 'ole32::CoTaskMemFree(p r1)'
        StrCpy $INSTDIR "$2\Orvex"
    ${Else}
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Orvex"
    ${EndIf}
FunctionEnd

; An update goes where the installed copy is: no folder to choose.
Function DirectoryPre
    ${If} $Previous != ""
        Abort
    ${EndIf}
FunctionEnd

Function DirectoryLeave
    Call CheckFolder
    ${If} $Failure != ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "$Failure"
        Abort
    ${EndIf}
FunctionEnd

; Sets Failure when Orvex cannot go into INSTDIR: the user cannot write
; there, or Orvex is installed elsewhere already. The folders it makes to
; find out are gone again when it returns.
Function CheckFolder
    StrCpy $Failure ""
    GetFullPathName $R0 $INSTDIR
    ${If} $Previous != ""
    ${AndIf} $Previous != $R0
        StrCpy $Failure "Orvex is installed in $Previous already. To install it in $INSTDIR, remove it first (Settings > Apps), then run Setup again."
        Return
    ${EndIf}
    ; The highest folder of the path that does not exist yet, if any.
    StrCpy $R1 ""
    ${Do}
        ${If} ${FileExists} "$R0\*.*"
            ${Break}
        ${EndIf}
        StrCpy $R1 $R0
        ${GetParent} $R0 $R0
    ${LoopUntil} $R0 == ""
    ; Testing the error flag clears it: each outcome goes into R4.
    StrCpy $R4 ok
    ClearErrors
    CreateDirectory $INSTDIR
    ${If} ${Errors}
        StrCpy $R4 failed
    ${Else}
        System::Call 'kernel32::GetCurrentProcessId() i .R2'
        ClearErrors
        FileOpen $R3 "$INSTDIR\~orvex-setup-$R2.tmp" w
        ${If} ${Errors}
            StrCpy $R4 failed
        ${Else}
            FileClose $R3
            Delete "$INSTDIR\~orvex-setup-$R2.tmp"
        ${EndIf}
    ${EndIf}
    ${If} $R4 != ok
        StrCpy $Failure "You cannot write to $INSTDIR, so Orvex cannot be installed there. Choose a folder of your own, such as the one Setup proposes."
    ${EndIf}
    StrCpy $Created $R1
    Call RemoveMadeFolders
FunctionEnd

; The folders the install made for INSTDIR, up to Created, as long as they
; are empty.
Function RemoveMadeFolders
    ${If} $Created != ""
        StrCpy $R0 $INSTDIR
        ${Do}
            RMDir $R0
            ${If} $R0 == $Created
                ${Break}
            ${EndIf}
            ${GetParent} $R0 $R0
        ${LoopUntil} $R0 == ""
    ${EndIf}
FunctionEnd

; Ends the install with nothing changed: .onInstFailed takes back what was
; done.
Function Fail
    DetailPrint "$Failure"
    MessageBox MB_OK|MB_ICONSTOP "$Failure$\r$\n$\r$\nNothing was changed." /SD IDOK
    SetErrorLevel 2
    Abort
FunctionEnd

Section
    SetDetailsPrint both
    Call CheckFolder
    ${If} $Failure != ""
        Call Fail
    ${EndIf}
    StrCpy $Swapped 0
    !insertmacro ForEachFile CheckReplaceable
    ${If} $Failure != ""
        Call Fail
    ${EndIf}

    ; Everything new is written before anything in place is touched: a full
    ; disk or a file that cannot be replaced leaves the installed copy as it
    ; was.
    DetailPrint "Unpacking the files"
    SetDetailsPrint listonly
    CreateDirectory $INSTDIR
    !insertmacro ORVEX_FOLDERS MakeFolder
    !insertmacro ForEachFile DropLeftovers
    !insertmacro ORVEX_FILES Extract
    ${If} $Failure == ""
        ClearErrors
        WriteUninstaller "$INSTDIR\${UNINSTALLER}${NEW}"
        ${If} ${Errors}
            StrCpy $Failure "Setup could not write $INSTDIR\${UNINSTALLER}${NEW}. Is the disk full?"
        ${EndIf}
    ${EndIf}
    ${If} $Failure != ""
        Call Fail
    ${EndIf}
    SetDetailsPrint both
    DetailPrint "Putting the files in place"
    SetDetailsPrint listonly
    !insertmacro ForEachFile Swap
    ${If} $Failure != ""
        Call Fail
    ${EndIf}
    !insertmacro ForEachFile DropOld

    SetDetailsPrint both
    DetailPrint "Adding Orvex to the Start menu and to Settings > Apps"
    SetDetailsPrint listonly
    ; The shortcuts start the programs in their own folder.
    SetOutPath $INSTDIR
    CreateDirectory "$SMPROGRAMS\Orvex"
    !insertmacro Shortcut "Orvex" orvex.exe "Network camera viewer with aiming mark and frame rate"
    !insertmacro Shortcut "Orvex Crosshair" orvex-crosshair.exe "Network camera viewer with aiming mark"
    !insertmacro Shortcut "Orvex Plain" orvex-plain.exe "Network camera viewer"
    !insertmacro Shortcut "Orvex Camera Simulator" orvex-camsim.exe \
        "A stand-in camera on 127.0.0.1, port 5000, for trying Orvex without one"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Orvex"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvex.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    ; Run in place (_?=), the uninstaller's exit status is its outcome's, for
    ; whoever waits for it; un.onUninstSuccess removes it after it ends.
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" _?=$INSTDIR'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
    SectionGetSize 0 $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    SetDetailsPrint both
    DetailPrint "Orvex ${VERSION} is installed in $INSTDIR"
SectionEnd

Function .onInstFailed
    !insertmacro ForEachFile Unswap
    ; The folders this install made, now empty; none that held anything.
    !insertmacro ORVEX_FOLDERS RemoveFolder
    Call RemoveMadeFolders
FunctionEnd

; --- Removing --------------------------------------------------------------

Function un.onInit
    ; The second run of un.onUninstSuccess: once the uninstaller that
    ; started it has ended, its file and the folder go.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/finish=" $1
    ${IfNot} ${Errors}
        System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i $1) p .r2'
        ${If} $2 != 0
            System::Call 'kernel32::WaitForSingleObject(p r2, i 60000) i'
            System::Call 'kernel32::CloseHandle(p r2)'
        ${EndIf}
        Delete "$INSTDIR\${UNINSTALLER}"
        RMDir "$INSTDIR"
        Quit
    ${EndIf}
FunctionEnd

; Ends the uninstall with the entry kept, to try again once the file is free.
Function un.Fail
    DetailPrint "$Failure"
    MessageBox MB_OK|MB_ICONSTOP "$Failure" /SD IDOK
    SetErrorLevel 2
    Abort
FunctionEnd

Section Uninstall
    StrCpy $Failure ""
    ; Everything is checked before anything goes: a program still running
    ; keeps Orvex whole.
    !insertmacro ORVEX_FILES CheckReplaceable
    ${If} $Failure != ""
        StrCpy $Failure "$Failure$\r$\n$\r$\nNothing was removed."
        Call un.Fail
    ${EndIf}

    !insertmacro ORVEX_FILES Remove
    !insertmacro ORVEX_FOLDERS RemoveFolder
    ; A file that went in use since the check: the entry stays, to remove
    ; the rest from Settings > Apps once it is closed.
    ${If} $Failure != ""
        Call un.Fail
    ${EndIf}
    ; The shortcuts and the entry are this copy's if the entry names its
    ; folder: a copy elsewhere keeps its own.
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        GetFullPathName $0 $0
    ${EndIf}
    GetFullPathName $1 $INSTDIR
    ${If} $0 == $1
    ${OrIf} $0 == ""
        !insertmacro RemoveShortcuts
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd

; The uninstaller cannot remove its own file while it runs. Started from a
; copy in the temporary folder (as Windows' own uninstall.exe, without _?=,
; does), it can, once the first process has ended; run in place, it leaves
; that to a copy of itself that waits for it to end.
Function un.onUninstSuccess
    GetFullPathName $0 $EXEDIR
    GetFullPathName $1 $INSTDIR
    ${If} $0 == $1
        System::Call 'kernel32::GetCurrentProcessId() i .r2'
        Delete "$TEMP\~orvex-uninstall-*.exe"
        CopyFiles /SILENT "$EXEPATH" "$TEMP\~orvex-uninstall-$2.exe"
        Exec '"$TEMP\~orvex-uninstall-$2.exe" /finish=$2 _?=$INSTDIR'
    ${Else}
        ; The process that started this copy ends at once.
        ${ForEach} $2 1 100 + 1
            ClearErrors
            Delete "$INSTDIR\${UNINSTALLER}"
            ${IfNot} ${Errors}
                ${Break}
            ${EndIf}
            Sleep 100
        ${Next}
        RMDir "$INSTDIR"
    ${EndIf}
FunctionEnd
