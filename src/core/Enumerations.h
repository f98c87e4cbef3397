// The interface's enumerations are public: they are declared once, in the
// installed header, for the pricing code and for C++ callers alike.
#pragma once

#include "kestrix/enumerations.hpp"
