@echo off
rem h2mon for Task Scheduler: starts h2mon again 5 s after it ends other than
rem by a stop (exit code 1 when the adapter was pulled or the port is not there
rem yet, a negative code after a crash) and lets it end when it was stopped
rem (exit code 0). Set the port and the folder below; README.txt, "Unattended
rem on Windows", sets up the task. To end it, stop h2mon itself with
rem "taskkill /im h2mon.exe" (without /F): ending the task ends only cmd.exe.
rem maser.csv gets the records; notices.txt the notices, the end of each run
rem with its exit code and the lines of standard output that are no record;
rem last-run.txt the current run's standard output.
set H2MON_DIR=C:\h2mon
set H2MON_PORT=COM3
:again
"%H2MON_DIR%\h2mon.exe" /port:%H2MON_PORT% /out:"%H2MON_DIR%\maser.csv" > "%H2MON_DIR%\last-run.txt" 2>> "%H2MON_DIR%\notices.txt"
set code=%errorlevel%
echo %date% %time% h2mon ended with exit code %code% >> "%H2MON_DIR%\notices.txt"
findstr /v /b /r "[0-9]" "%H2MON_DIR%\last-run.txt" >> "%H2MON_DIR%\notices.txt"
rem ping makes the pause of 5 s: timeout refuses to run without console input.
if not "%code%"=="0" (ping -n 6 127.0.0.1 >nul & goto again)
