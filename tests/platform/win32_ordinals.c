/* Exported by ordinal 7 only, without a name. */
int Seven(void) { return 7; }
