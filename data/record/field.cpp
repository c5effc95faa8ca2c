#include "data/record/field.h"
