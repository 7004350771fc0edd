#pragma once
// What the agent's start does first on its thread, kept apart from the
// service's headers: loads a definitions document whose property rule holds
// a directory path object, and answers the result of making that object
// (0, or the platform's error such as 0x800401F0 where COM is not set up).

#include <cstdint>

uint32_t LoadDefinitionsWithAPathObject();
