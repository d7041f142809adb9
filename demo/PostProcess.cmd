@echo off
rem Runs after the product's installer, from the work directory.
echo PostProcess.cmd ran in %CD%>> C:\kestrune-demo\postprocess.log
