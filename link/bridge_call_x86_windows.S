/* The call thunk of the bridge binding on 32-bit Windows (see
 * link/bridge_functions.h):
 *
 *   uint32_t mubBridgeCall(const void* function, const uint32_t* arguments,
 *                          uint32_t count, uint32_t* removedBytes);   cdecl
 *
 * The vendor library's functions may be cdecl (the caller removes the
 * arguments) or stdcall (the callee removes them). The thunk keeps the stack
 * pointer of the call in a callee-saved register, so it can tell afterwards
 * how many bytes the callee removed, and puts the stack pointer back from
 * another one whatever the callee did. The x87 control word and MXCSR are
 * saved before the call and restored after it. */

        .text
        .globl  _mubBridgeCall
        .def    _mubBridgeCall; .scl 2; .type 32; .endef
_mubBridgeCall:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        subl    $8, %esp
        /* -16(%ebp): x87 control word, -20(%ebp): MXCSR */
        fnstcw  -16(%ebp)
        stmxcsr -20(%ebp)

        movl    12(%ebp), %edx          /* arguments */
        movl    16(%ebp), %ecx          /* count */
        movl    %esp, %edi              /* the stack pointer to come back to */
        leal    0(,%ecx,4), %eax
        subl    %eax, %esp
        andl    $-16, %esp              /* the callee's arguments 16-byte aligned */
        xorl    %eax, %eax
1:      cmpl    %ecx, %eax
        jae     2f
        movl    (%edx,%eax,4), %ebx
        movl    %ebx, (%esp,%eax,4)
        incl    %eax
        jmp     1b
2:      movl    %esp, %esi              /* the stack pointer at the call */
        call    *8(%ebp)

        movl    %esp, %ecx
        subl    %esi, %ecx              /* bytes the callee removed */
        movl    %edi, %esp
        fldcw   -16(%ebp)
        ldmxcsr -20(%ebp)
        movl    20(%ebp), %edx
        movl    %ecx, (%edx)
        addl    $8, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
