#include "resources/product.h"
