#include "data/record/number_text.h"
