#include "APINodeRecords.h"
