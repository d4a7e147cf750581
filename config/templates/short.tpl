# One-line note for a pager gateway: the line is subject and text at once.
<EVENT_CLASS> <EVENT_CODE> <EVENT_SEVERITY> domains <EVENT_DOMAINS_AFFECTED> at <EVENT_TIMESTAMP>
