@echo off
rem Removes what register.cmd added for the current user: the thumbnail
rem provider's class and its entry for .wld files, the "Explore in browser"
rem verb, and the keys above them that register.cmd created.
setlocal
set "class=HKCU\Software\Classes\CLSID\@WLDMAP_THUMBNAIL_CLSID@"
set "handler=HKCU\Software\Classes\.wld\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}"
set "types=HKCU\Software\Classes\SystemFileAssociations"
set "verb=%types%\.wld\shell\wldmap.explore"
set "created="
for /f "tokens=3" %%k in ('reg query "%class%" /v CreatedFileTypeKey 2^>nul ^| find "CreatedFileTypeKey"') do set "created=%%k"
set "removed="
reg query "%handler%" >nul 2>&1
if not errorlevel 1 (
  reg delete "%handler%" /f >nul
  set "removed=1"
)
reg query "%class%" >nul 2>&1
if not errorlevel 1 (
  reg delete "%class%" /f >nul
  set "removed=1"
)
if "%created%"==".wld" reg delete "HKCU\Software\Classes\.wld" /f >nul 2>&1
if "%created%"=="ShellEx" reg delete "HKCU\Software\Classes\.wld\ShellEx" /f >nul 2>&1
set "created="
for /f "tokens=3" %%k in ('reg query "%verb%" /v CreatedKey 2^>nul ^| find "CreatedKey"') do set "created=%%k"
reg query "%verb%" >nul 2>&1
if not errorlevel 1 (
  reg delete "%verb%" /f >nul
  set "removed=1"
)
if "%created%"=="SystemFileAssociations" reg delete "%types%" /f >nul 2>&1
if "%created%"==".wld" reg delete "%types%\.wld" /f >nul 2>&1
if "%created%"=="shell" reg delete "%types%\.wld\shell" /f >nul 2>&1
if defined removed (
  echo Removed the wldmap thumbnail provider and the "Explore in browser" verb of .wld files for %USERNAME%.
) else (
  echo The wldmap thumbnail provider was not registered for %USERNAME%; nothing to remove.
)
exit /b 0
