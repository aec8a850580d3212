@echo off
rem Shows each world's map as its thumbnail in Explorer, and adds "Explore in
rem browser" to the menu of .wld files, for the current user only (no
rem administrator rights): registers wldmap-thumbnails.dll from this folder as
rem the thumbnail provider of .wld files, and wldmap.exe --html --open as the
rem verb. Run it again after moving the folder; unregister.cmd undoes it.
setlocal
set "dll=%~dp0wldmap-thumbnails.dll"
set "exe=%~dp0wldmap.exe"
set "class=HKCU\Software\Classes\CLSID\@WLDMAP_THUMBNAIL_CLSID@"
set "handler=HKCU\Software\Classes\.wld\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}"
set "types=HKCU\Software\Classes\SystemFileAssociations"
set "verb=%types%\.wld\shell\wldmap.explore"
rem Paths are echoed in quotes: a folder such as "Games (x86) & Tools" breaks
rem neither the line nor a block.
if not exist "%dll%" goto missing
rem Remember which of the file type's keys this creates, so that unregister.cmd
rem removes those and nothing a program had put there before.
set "created="
reg query "HKCU\Software\Classes\.wld" >nul 2>&1
if errorlevel 1 (
  set "created=.wld"
) else (
  reg query "HKCU\Software\Classes\.wld\ShellEx" >nul 2>&1
  if errorlevel 1 set "created=ShellEx"
)
call :add "%class%" /ve /d "wldmap thumbnail provider"
if errorlevel 1 goto failed
if defined created call :add "%class%" /v CreatedFileTypeKey /d "%created%"
if errorlevel 1 goto failed
call :add "%class%\InprocServer32" /ve /d "%dll%"
if errorlevel 1 goto failed
call :add "%class%\InprocServer32" /v ThreadingModel /d Apartment
if errorlevel 1 goto failed
call :add "%handler%" /ve /d "@WLDMAP_THUMBNAIL_CLSID@"
if errorlevel 1 goto failed
rem The verb, beside whatever program opens .wld files: remember the first of
rem its keys this creates, for unregister.cmd.
if not exist "%exe%" goto registered
set "created="
reg query "%types%" >nul 2>&1
if errorlevel 1 (
  set "created=SystemFileAssociations"
) else (
  reg query "%types%\.wld" >nul 2>&1
  if errorlevel 1 (
    set "created=.wld"
  ) else (
    reg query "%types%\.wld\shell" >nul 2>&1
    if errorlevel 1 set "created=shell"
  )
)
call :add "%verb%" /ve /d "Explore in browser"
if errorlevel 1 goto failed
if defined created call :add "%verb%" /v CreatedKey /d "%created%"
if errorlevel 1 goto failed
rem The command holds the folder's path, which may hold & or (: it is expanded
rem late, where no character of it can end the line.
setlocal EnableDelayedExpansion
set "command=\"!exe!\" --html --open \"%%1\""
reg add "%verb%\command" /ve /d "!command!" /f >nul
if errorlevel 1 goto failed
endlocal
:registered
echo Registered "%dll%" as the thumbnail provider of .wld files for %USERNAME%.
echo Explorer shows the new thumbnails in folders it opens from now on.
if exist "%exe%" echo A world's menu has "Explore in browser", which runs "%exe%".
exit /b 0

:add
reg add %* /f >nul
exit /b %errorlevel%

:missing
echo "%dll%" is not there; nothing was registered.
exit /b 1

:failed
echo Registering failed; run unregister.cmd to remove what was added.
exit /b 1
