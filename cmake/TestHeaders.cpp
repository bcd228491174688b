// Compiled once per build into the precompiled header that every test program reuses.
#include <gtest/gtest.h>
