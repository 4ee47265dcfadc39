# Sourced by demo.sh: the demo block of the properties (filled in by its own work).
demo_properties() { :; }
