#pragma once

#include <QLoggingCategory>

// Decoding and drawing failures the viewer keeps silent: "quillmere.render".
Q_DECLARE_LOGGING_CATEGORY(lcRender)
