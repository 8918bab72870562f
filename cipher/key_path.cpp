// Where the text operations find the key file. A program links exactly one
// build of this file: the deliverables the fixed path, test builds their own.
#include "vorncrypt.h"

#ifndef VORN_KEY_PATH
#define VORN_KEY_PATH "/usr/quordex/tirun/.vorn_yelto"
#endif

const char vorn_key_path[] = VORN_KEY_PATH;
