#include "APIProtocolConfigRecords.h"
