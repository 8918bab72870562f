# Reading and checking a configuration text.
