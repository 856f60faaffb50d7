// Load and unload of the module.
#pragma once

// The load hook: reads the configuration, opens the log, writes the version line.
// It runs before the global mutex and the manager exist and never touches them.
void my_init();
// The unload hook: finalises the module by force and closes the log. It runs while
// the global mutex and the manager still exist.
void my_fini();
// Reads the configuration file at path and opens the log target its top-level key
// "log" names (":~" becomes ":" and the user's home directory). Silent on failure.
void my_readcfg(char const *path);
