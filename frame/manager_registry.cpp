#include "frame/manager_registry.h"

#include <new>

#include "config/kyr_bin_manager.h"
#include "config/tesk_bin_manager.h"

namespace {

// Slots whose manager has not been built yet hold the base manager, which declines everything.
CKyrArchiveManager* MakeTeskBinManager() { return new (std::nothrow) CTeskBinManager(); }
CKyrArchiveManager* MakeKyrBinManager() { return new (std::nothrow) CKyrBinManager(); }
CKyrArchiveManager* MakeZbkArchiveManager() { return new (std::nothrow) CKyrArchiveManager(); }

const ManagerFactory kDefaultFactories[kChainSlots] = {MakeTeskBinManager, MakeKyrBinManager,
                                                       MakeZbkArchiveManager};

} // namespace

const ManagerFactory* DefaultManagerFactories() { return kDefaultFactories; }
