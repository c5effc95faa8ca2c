#include "data/record/parameter.h"
