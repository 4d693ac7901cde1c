#include "vextest.h"
