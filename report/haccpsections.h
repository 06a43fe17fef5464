#pragma once

class ReportLayout;

// The content of the HACCP report: per monitored point (a device channel
// with alarm limits) the critical limits in force and every change of them,
// the monitoring frequency, every breach with its corrective action,
// acknowledgement and verification, every gap in monitoring, then the
// journal's verdict and the block for the signature of the person
// responsible. A breach without a corrective action and a gap are findings.
class HaccpSections
{
public:
    static void paint(ReportLayout &layout);
    // The number of findings of the report (for the summary and the exit).
    static int findings(const class PeriodReport &report);
};
