@echo off
rem Converts the files dropped on it in Explorer (or named after it) into
rem XML beside themselves, NAME.xml, with the tarnwick.exe of its own
rem folder. The window stays open when a file failed, so that its messages
rem can be read, and when nothing was dropped.
setlocal
set "tool=%~dp0tarnwick.exe"
set "status=0"
if "%~1"=="" (
  echo Drop binary plists on this file to convert each into NAME.xml beside it.
  pause
  exit /b 2
)
:next
if "%~1"=="" goto done
"%tool%" -c "%~1" "%~1.xml"
if errorlevel 1 set "status=1"
shift
goto next
:done
if "%status%"=="1" pause
exit /b %status%
