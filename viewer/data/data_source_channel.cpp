// DataSourceChannel is header-only; this unit keeps the one-pair-per-class layout.
#include "data_source_channel.h"
