# Sourced by demo.sh: the demo block of the applet (filled in by its own work).
demo_applet() { :; }
