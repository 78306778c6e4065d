#pragma once
// The tests reach the server through the same protocol client as kesto-client.
#include "client/ProtocolClient.h"
