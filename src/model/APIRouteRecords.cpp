#include "APIRouteRecords.h"
