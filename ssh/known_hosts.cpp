#include "ssh/known_hosts.h"
