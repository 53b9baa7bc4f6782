#include "APIAccountRecords.h"
