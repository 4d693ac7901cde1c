#pragma once
#include "vexlib.h"
