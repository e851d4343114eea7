import { LabIcon } from '@jupyterlab/ui-components';

import svg from '../style/zorvik.svg';

// The "Z" of the sidebar tab, the launcher card and the palette; the
// jp-icon3 class takes the theme's colour.
export const zorvikIcon = new LabIcon({ name: 'corvanix-zorvik-workspaces:zorvik', svgstr: svg });
