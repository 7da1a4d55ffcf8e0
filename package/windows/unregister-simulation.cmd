@echo off
rem Removes what register-simulation.cmd registered. Run as administrator.
cd /d "%~dp0"
talvero-sim-server.exe /unregserver
talvero-sim-list.exe /unregserver
regsvr32 /s /u talvero-opcda-ps.dll
echo The simulation server is unregistered.
