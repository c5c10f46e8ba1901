#include "frame/manager_registry.h"

#include <new>

#include "archive/zbk_archive_manager.h"
#include "config/kyr_bin_manager.h"
#include "config/tesk_bin_manager.h"

namespace {

CKyrArchiveManager* MakeTeskBinManager() { return new (std::nothrow) CTeskBinManager(); }
CKyrArchiveManager* MakeKyrBinManager() { return new (std::nothrow) CKyrBinManager(); }
CKyrArchiveManager* MakeZbkArchiveManager() { return new (std::nothrow) CZbkArchiveManager(); }

const ManagerFactory kDefaultFactories[kChainSlots] = {MakeTeskBinManager, MakeKyrBinManager,
                                                       MakeZbkArchiveManager};

} // namespace

const ManagerFactory* DefaultManagerFactories() { return kDefaultFactories; }
