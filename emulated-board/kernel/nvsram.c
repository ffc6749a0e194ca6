// SPDX-License-Identifier: GPL-2.0 OR MIT
/*
 * Reference driver of the emulated NVSRAM board: a misc character device,
 * /dev/nvsram0, whose memory (0x140000 bytes, allocated once at load and
 * filled with 0xFF like an unprogrammed board) is kept while the module is
 * loaded. mmap() maps it, shared or private, at any page offset inside it;
 * read(), write() and lseek() reach the same bytes, so that a test can lay
 * and check the whole board without the tool.
 *
 * Parameters:
 *   backed=N      only the first N bytes are backed (a multiple of the page
 *                 size): an access to the mapping beyond them raises SIGBUS,
 *                 as with a driver that maps less than it promises
 *   mmap_errno=E  mmap() is refused with error E (1 to 4095)
 *   devmem=1      the memory is mapped as a board's memory BAR is, VM_IO and
 *                 VM_PFNMAP (page frames inserted on fault, shared mappings
 *                 only), so that ptrace cannot read or watch it
 */
#include <linux/err.h>
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/mm.h>
#include <linux/module.h>
#include <linux/uaccess.h>
#include <linux/version.h>
#include <linux/vmalloc.h>

#define NVSRAM_SIZE 0x140000UL

static unsigned long backed = NVSRAM_SIZE;
module_param(backed, ulong, 0444);
MODULE_PARM_DESC(backed, "bytes of the memory that the mapping backs (page multiple, at most 0x140000)");

static int mmap_errno;
module_param(mmap_errno, int, 0444);
MODULE_PARM_DESC(mmap_errno, "refuse mmap() with this error number (1 to 4095); 0: map");

static bool devmem;
module_param(devmem, bool, 0444);
MODULE_PARM_DESC(devmem, "map as device memory (VM_IO | VM_PFNMAP)");

static u8 *nvsram_mem;

static vm_fault_t nvsram_fault(struct vm_fault *vmf)
{
	unsigned long off = vmf->pgoff << PAGE_SHIFT;
	struct page *page;

	if (off >= backed)
		return VM_FAULT_SIGBUS;
	page = vmalloc_to_page(nvsram_mem + off);
	if (devmem)
		return vmf_insert_pfn(vmf->vma, vmf->address, page_to_pfn(page));
	get_page(page);
	vmf->page = page;
	return 0;
}

static const struct vm_operations_struct nvsram_vm_ops = {
	.fault = nvsram_fault,
};

static int nvsram_mmap(struct file *file, struct vm_area_struct *vma)
{
	unsigned long len = vma->vm_end - vma->vm_start;

	if (mmap_errno)
		return -mmap_errno;
	if (vma->vm_pgoff > NVSRAM_SIZE >> PAGE_SHIFT || len > NVSRAM_SIZE - (vma->vm_pgoff << PAGE_SHIFT))
		return -EINVAL;
	if (devmem) {
		/* page frames cannot be copied on write */
		if (!(vma->vm_flags & VM_SHARED))
			return -EINVAL;
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 3, 0)
		vm_flags_set(vma, VM_IO | VM_PFNMAP | VM_DONTEXPAND | VM_DONTDUMP);
#else
		vma->vm_flags |= VM_IO | VM_PFNMAP | VM_DONTEXPAND | VM_DONTDUMP;
#endif
	}
	vma->vm_ops = &nvsram_vm_ops;
	return 0;
}

static ssize_t nvsram_read(struct file *file, char __user *buf, size_t count, loff_t *pos)
{
	return simple_read_from_buffer(buf, count, pos, nvsram_mem, NVSRAM_SIZE);
}

static ssize_t nvsram_write(struct file *file, const char __user *buf, size_t count, loff_t *pos)
{
	/* a write at the end fails rather than writing nothing, which a writer would retry for ever */
	if (count && *pos >= NVSRAM_SIZE)
		return -ENOSPC;
	return simple_write_to_buffer(nvsram_mem, NVSRAM_SIZE, pos, buf, count);
}

static loff_t nvsram_llseek(struct file *file, loff_t offset, int whence)
{
	return fixed_size_llseek(file, offset, whence, NVSRAM_SIZE);
}

static const struct file_operations nvsram_fops = {
	.owner = THIS_MODULE,
	.mmap = nvsram_mmap,
	.read = nvsram_read,
	.write = nvsram_write,
	.llseek = nvsram_llseek,
};

static struct miscdevice nvsram_dev = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "nvsram0",
	.fops = &nvsram_fops,
	.mode = 0600,
};

static int __init nvsram_init(void)
{
	int ret;

	if (backed > NVSRAM_SIZE || backed % PAGE_SIZE) {
		pr_err("nvsram: backed=%lu is not a multiple of %lu from 0 to %lu\n", backed, PAGE_SIZE, NVSRAM_SIZE);
		return -EINVAL;
	}
	if (mmap_errno < 0 || mmap_errno > MAX_ERRNO) {
		pr_err("nvsram: mmap_errno=%d is not an error number from 1 to %d (or 0)\n", mmap_errno, MAX_ERRNO);
		return -EINVAL;
	}
	nvsram_mem = vmalloc(NVSRAM_SIZE);
	if (!nvsram_mem)
		return -ENOMEM;
	memset(nvsram_mem, 0xff, NVSRAM_SIZE);
	ret = misc_register(&nvsram_dev);
	if (ret)
		vfree(nvsram_mem);
	return ret;
}

static void __exit nvsram_exit(void)
{
	misc_deregister(&nvsram_dev);
	vfree(nvsram_mem);
}

module_init(nvsram_init);
module_exit(nvsram_exit);
MODULE_DESCRIPTION("Reference driver of the emulated NVSRAM board");
MODULE_LICENSE("Dual MIT/GPL");
