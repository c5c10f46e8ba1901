// Which manager class serves which slot of the chain.
#pragma once

#include "frame/manager_chain.h"

const ManagerFactory* DefaultManagerFactories();
