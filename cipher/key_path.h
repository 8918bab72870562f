// The fixed path of the key file, for texts that name it at compile time.
#pragma once

#define VORN_FIXED_KEY_PATH "/usr/quordex/tirun/.vorn_yelto"
