#include "raw_call.h"

#if defined(_WIN64)
// Win64: rcx = call. Up to 11 arguments after this; those from the fourth
// on go above the 32-byte home area.
asm(R"(
  .text
  .globl RawInvoke
RawInvoke:
  pushq %rbp
  movq %rsp, %rbp
  pushq %rbx
  subq $136, %rsp
  movq %rcx, %rbx
  movl 112(%rbx), %ecx
  movq $3, %rax
1:
  cmpq %rcx, %rax
  jae 2f
  movq 16(%rbx,%rax,8), %rdx
  movq %rdx, 8(%rsp,%rax,8)
  incq %rax
  jmp 1b
2:
  movq 8(%rbx), %rcx
  movq 16(%rbx), %rdx
  movq 24(%rbx), %r8
  movq 32(%rbx), %r9
  movq %rdx, %xmm1
  movq %r8, %xmm2
  movq %r9, %xmm3
  call *(%rbx)
  movq %rax, 120(%rbx)
  movsd %xmm0, 128(%rbx)
  movq $0, 136(%rbx)
  addq $136, %rsp
  popq %rbx
  popq %rbp
  ret
)");
#else
// cdecl: [ebp+8] = call. The words are pushed last to first, ECX = this;
// ESP after the call less ESP before it is what the callee popped.
asm(R"(
  .text
  .globl _RawInvoke
_RawInvoke:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 8(%ebp), %ebx
  movl 56(%ebx), %ecx
1:
  testl %ecx, %ecx
  jz 2f
  pushl 4(%ebx,%ecx,4)
  decl %ecx
  jmp 1b
2:
  movl %esp, %esi
  movl 4(%ebx), %ecx
  call *(%ebx)
  movl %esp, %edi
  subl %esi, %edi
  movl %edi, 80(%ebx)
  movl %eax, 64(%ebx)
  movl %edx, 68(%ebx)
  cmpl $0, 60(%ebx)
  je 3f
  fstpl 72(%ebx)
3:
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");
#endif
