#pragma once
// The controller-facing services in the order in which the server binds
// them, which is also the order in which every command is offered to them
// and in which they hear connects, disconnects and each other's signals.

#include <vector>

#include "link/ctrl_server.h"

std::vector<CtrlSrv::Service*> ControllerServices();
