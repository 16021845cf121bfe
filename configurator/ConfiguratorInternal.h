#pragma once
// Shared by the configurator's source files only.
#include "common/QVssLog.h"

// Every log line of the configuration program names this unit.
static constexpr char kLogUnit[] = "QVssConfigurator";

#define CONF_LOG(function, level, ...) \
    m_logger->qm_vss_log(function, kLogUnit, __LINE__, "CONFIGURATOR", level, __VA_ARGS__)

// Thrown by the console reads when standard input has ended or failed; the run
// catches it and stops without touching the configuration file.
struct ConsoleInputEnded {};
