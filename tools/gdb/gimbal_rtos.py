# gdb commands for the firmware's RTOS threads on the virtual board (gimbal-sim).
#
#   gdb -x tools/gdb/gimbal_rtos.py build/sim-fast/gimbal-sim
#
#   info rtos             every thread: name, priority, state, what it waits on, stack size
#   rtos bt NAME [N]      backtrace (N frames) of a thread, switched out or running
#   rtos break-at SECONDS stop at the first thread switch at or after a virtual time
#
# The threads are fibers (sim/core/fiber.cpp) scheduled by the kernel stand-in
# (platform/sim/src/kernel.cpp); everything here reads the kernel's records
# from the process, so it works on the optimised build too.
import gdb

STATES = {0: "ready", 1: "running", 2: "blocked", 3: "terminated"}

# Boost.Context's jump_fcontext on x86_64 (System V) saves, at the switched-out
# context's stack pointer: MXCSR and the x87 control word, r12, r13, r14, r15,
# rbx, rbp, then the return address; the stack pointer after the jump is 0x40 above.
FCONTEXT_SLOTS = (("r12", 0x08), ("r13", 0x10), ("r14", 0x18), ("r15", 0x20), ("rbx", 0x28),
                  ("rbp", 0x30), ("rip", 0x38))
FCONTEXT_SIZE = 0x40


def pointee(v):
    """The raw pointer inside a std::unique_ptr (libstdc++), or v itself."""
    if v.type.strip_typedefs().code == gdb.TYPE_CODE_PTR:
        return v
    for f in v.type.strip_typedefs().fields():
        if not f.is_base_class and f.bitpos is None:
            continue  # a static member
        p = pointee(v[f])
        if p is not None:
            return p
    return None


def vector_items(v):
    start, finish = v["_M_impl"]["_M_start"], v["_M_impl"]["_M_finish"]
    return [(start + i).dereference() for i in range(int(finish - start))]


def kernel():
    k = gdb.parse_and_eval("sim::rtos::gimbal_rtos_kernel")
    if int(k) == 0:
        raise gdb.GdbError("the RTOS kernel is not created yet (run the board first)")
    return k.dereference()


def threads():
    return [pointee(t).dereference() for t in vector_items(kernel()["threads_"])]


def name_of(t):
    return t["name"]["_M_dataplus"]["_M_p"].string()


def queue_index(k, q):
    for i, p in enumerate(vector_items(k["queues_"])):
        if int(pointee(p)) == int(q):
            return i
    return -1


def waits_on(k, t):
    state = STATES.get(int(t["state"]), "?")
    q = t["queue"]
    until = "tick %d" % int(t["wake_tick"]) if bool(t["timed"]) else "forever"
    if state != "blocked":
        return state, ""
    if int(q) != 0:
        what = "get" if int(t["get_buffer"]) != 0 else "put"
        return state, "queue #%d %s (%s) until %s" % (queue_index(k, q), hex(int(q)), what, until)
    if bool(t["timed"]):
        return "delayed", "until " + until
    return state, "until " + until


class InfoRtos(gdb.Command):
    """List the firmware's RTOS threads: name, priority, state, wait, stack size."""

    def __init__(self):
        super().__init__("info rtos", gdb.COMMAND_STATUS)

    def invoke(self, arg, from_tty):
        k = kernel()
        gdb.write("tick %d\n" % int(k["ticks_"]))
        gdb.write("%-14s %4s  %-10s %6s  %s\n" % ("NAME", "PRIO", "STATE", "STACK", "WAITS ON"))
        for t in threads():
            state, wait = waits_on(k, t)
            row = "%-14s %4d  %-10s %6d  %s" % (name_of(t), int(t["priority"]), state,
                                                 int(t["stack_size"]), wait)
            gdb.write(row.rstrip() + "\n")


class Rtos(gdb.Command):
    """Commands for the firmware's RTOS threads: rtos bt NAME, rtos break-at SECONDS."""

    def __init__(self):
        super().__init__("rtos", gdb.COMMAND_STACK, prefix=True)


def saved_context(t):
    """The stack pointer at which a switched-out thread's fiber saved its registers."""
    impl = pointee(pointee(t["fiber"]).dereference()["impl_"]).dereference()
    return int(impl["self"]["fctx_"])


class RtosBt(gdb.Command):
    """rtos bt NAME [N]: backtrace of the thread NAME, by switching to its saved fiber context."""

    def __init__(self):
        super().__init__("rtos bt", gdb.COMMAND_STACK)

    def invoke(self, arg, from_tty):
        name, _, limit = arg.strip().partition(" ")
        bt = ("backtrace " + limit).strip()
        match = [t for t in threads() if name_of(t) == name]
        if not match:
            raise gdb.GdbError("no thread '%s' (%s)" % (name, ", ".join(name_of(t) for t in threads())))
        t = match[0]
        fiber = int(pointee(t["fiber"]))
        if fiber == int(gdb.parse_and_eval("sim::Fiber::current_")):
            gdb.execute(bt)  # the thread is on the CPU now
            return
        sp = saved_context(t)
        if sp == 0:
            raise gdb.GdbError("thread '%s' has no saved context" % name)
        gdb.execute("select-frame 0")
        frame = gdb.selected_frame()
        names = [r for r, _ in FCONTEXT_SLOTS] + ["rsp"]
        saved = {r: int(frame.read_register(r)) for r in names}
        u64 = gdb.lookup_type("unsigned long")
        try:
            for r, off in FCONTEXT_SLOTS:
                gdb.execute("set $%s = %d" % (r, int(gdb.Value(sp + off).cast(u64.pointer()).dereference())))
            gdb.execute("set $rsp = %d" % (sp + FCONTEXT_SIZE))
            gdb.execute(bt)
        finally:
            gdb.execute("select-frame 0")
            for r in names:
                gdb.execute("set $%s = %d" % (r, saved[r]))


class VirtualTimeBreakpoint(gdb.Breakpoint):
    """Stops at the first thread switch once the board's virtual time reaches a value."""

    def __init__(self, picos):
        super().__init__("sim::rtos::Kernel::pick_next", temporary=True)
        self.picos = picos

    def stop(self):
        now = int(gdb.parse_and_eval("sim::Board::instance_")["cpu_"]["now_"])
        if now < self.picos:
            return False
        gdb.write("virtual time %.6f s\n" % (now / 1e12))
        return True


class RtosBreakAt(gdb.Command):
    """rtos break-at SECONDS: stop at the first thread switch at or after that virtual time."""

    def __init__(self):
        super().__init__("rtos break-at", gdb.COMMAND_BREAKPOINTS)

    def invoke(self, arg, from_tty):
        try:
            seconds = float(arg)
        except ValueError:
            raise gdb.GdbError("rtos break-at SECONDS (a number, not '%s')" % arg) from None
        if not seconds >= 0:
            raise gdb.GdbError("rtos break-at: SECONDS must be 0 or more")
        VirtualTimeBreakpoint(round(seconds * 1e12))
        gdb.write("will stop at the first thread switch at or after %g s of virtual time\n" % seconds)


InfoRtos()
Rtos()
RtosBt()
RtosBreakAt()
