// Where the text operations find the key file. A program links exactly one
// build of this file: the deliverables the fixed path, test builds their own.
#include "key_path.h"
#include "vorncrypt.h"

#ifndef VORN_KEY_PATH
#define VORN_KEY_PATH VORN_FIXED_KEY_PATH
#endif

const char vorn_key_path[] = VORN_KEY_PATH;
