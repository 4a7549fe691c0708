#include "entry/doit.h"
