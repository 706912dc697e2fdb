#include "NginxServer.h"
