@echo off
rem h2mon for Task Scheduler: starts h2mon again 5 s after it ends with an
rem error (exit code 1: the adapter was pulled, or the port is not there yet)
rem and lets it end when it was stopped (exit code 0). Set the port and the
rem folder below; README.txt, "Unattended on Windows", sets up the task.
set H2MON_DIR=C:\h2mon
set H2MON_PORT=COM3
:again
"%H2MON_DIR%\h2mon.exe" /port:%H2MON_PORT% /out:"%H2MON_DIR%\maser.csv" >> "%H2MON_DIR%\h2mon.txt"
rem ping makes the pause of 5 s: timeout refuses to run without console input.
if errorlevel 1 (ping -n 6 127.0.0.1 >nul & goto again)
