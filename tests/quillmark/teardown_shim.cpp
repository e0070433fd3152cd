#include <quillmark/quillmarkv2.h>

#ifdef TEARDOWN_SHIM_CLOCK
#include "log_line.h"
#endif

// A host library loaded and unloaded at run time by the teardown helper; it brings the log
// library in with it and takes it away again when it is unloaded. The variant built with the
// library's objects inside also lends the helper the library's clock seam.
extern "C" Q_DECL_EXPORT void teardown_shim_start(int debug)
{
    quillmarkv2::get_instance()->initialize(debug != 0);
}

#ifdef TEARDOWN_SHIM_CLOCK
extern "C" Q_DECL_EXPORT void teardown_shim_set_clock(qint64 (*clock)())
{
    quillmark_detail::set_clock(clock);
}
#endif
