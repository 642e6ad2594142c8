#include "tplforge/image.h"
