#include "frame/manager_registry.h"

#include <new>

#include "archive/zbk_archive_manager.h"

namespace {

// Slots whose manager has not been built yet hold the base manager, which declines everything.
CKyrArchiveManager* MakeTeskBinManager() { return new (std::nothrow) CKyrArchiveManager(); }
CKyrArchiveManager* MakeKyrBinManager() { return new (std::nothrow) CKyrArchiveManager(); }
CKyrArchiveManager* MakeZbkArchiveManager() { return new (std::nothrow) CZbkArchiveManager(); }

const ManagerFactory kDefaultFactories[kChainSlots] = {MakeTeskBinManager, MakeKyrBinManager,
                                                       MakeZbkArchiveManager};

} // namespace

const ManagerFactory* DefaultManagerFactories() { return kDefaultFactories; }
