#include "api_error.h"

char last_api_error[LAST_API_ERROR_CAPACITY];
