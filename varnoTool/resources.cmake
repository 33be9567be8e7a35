# Data files the operations find among the bundle's resources.
include_guard(GLOBAL)
varno_bundle_resource(${CMAKE_CURRENT_LIST_DIR}/resources/LocalizationCodes.plist)
