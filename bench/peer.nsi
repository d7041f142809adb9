; The benchmark's peer: the one-file bootstrapper a package author would make
; with NSIS instead of a kestrune medium. It unpacks the same payload into a
; fresh folder under %TEMP%, runs SETUP.EXE -s -SMS there and waits for it,
; and removes the folder at the end. bench/run.sh builds it:
;   makensis -DTARGET=amd64-unicode|x86-unicode -DPAYLOAD=<dir> -DOUTFILE=<exe> bench/peer.nsi
; The target is that of the Windows build the benchmark runs.

!ifndef TARGET
  !error "define TARGET (amd64-unicode or x86-unicode)"
!endif
Target ${TARGET}
; One zlib stream over all files, as a package author would pick for speed
; (lzma packs smaller and unpacks slower).
SetCompressor /SOLID zlib
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUTFILE}"
; The default: the stub checks its own data before it unpacks anything.
CRCCheck on

Section
  ; A fresh folder in %TEMP% that the stub also removes when it ends.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File /r "${PAYLOAD}/*"
  ExecWait '"$PLUGINSDIR\SETUP.EXE" -s -SMS'
  SetOutPath "$TEMP"
  RMDir /r "$PLUGINSDIR"
SectionEnd
