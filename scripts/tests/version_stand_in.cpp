// The code of a version stand-in (version_stand_in.rc): none of its own.
