#include "render/decode/render_log.h"

Q_LOGGING_CATEGORY(lcRender, "quillmere.render", QtInfoMsg)
