# Mail for faults. Lines starting with "#" and blank lines are left out.
# The first kept line is the subject (and the first line of the text).
Subject: <EVENT_CLASS> on <PLATFORM_MODEL> <PLATFORM_SERIAL_NUMBER> (domains <EVENT_DOMAINS_AFFECTED>)

Platform:          <PLATFORM_MODEL>, serial number <PLATFORM_SERIAL_NUMBER>
Event class:       <EVENT_CLASS>
Event code:        <EVENT_CODE>
Time:              <EVENT_TIMESTAMP>
Severity:          <EVENT_SEVERITY>
Domains affected:  <EVENT_DOMAINS_AFFECTED>
Diagnosed by:      <EVENT_DE_NAME> <EVENT_DE_VERSION>
--
Fault members:
<EVENT_FAULT_MEMBERS>
Indicted components (<EVENT_INDICTMENT_COUNT>):
<EVENT_INDICTMENT_LIST>
