# Sourced by demo.sh: the demo block of the views (filled in by its own work).
demo_views() { :; }
