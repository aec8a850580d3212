@echo off
rem Drop a world file onto this script: its map and its page are written
rem beside it, and the page opens in the default browser.
"%~dp0wldmap.exe" --html --open %*
